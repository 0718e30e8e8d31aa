#pragma once

#include "tandem/push/KoalaView.h"
#include "tandem/push/PushPreview.h"

#include <QWidget>

#include <memory>

namespace tandem {

// The Push 2's screen in a window: the view the Push shows, drawn by the same art scaled to the
// window, so the two never differ.
class KoalaPushPreviewView final : public QWidget {
public:
    explicit KoalaPushPreviewView(QWidget* parent = nullptr);

    void setModel(const KoalaView& view);
    const KoalaView& model() const { return shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    KoalaView shown;
};

// The preview window as the bridge sees it. Closing hides the window; the next open shows the same
// one again.
class QtPushPreview final : public PushPreview {
public:
    QtPushPreview();
    ~QtPushPreview() override;

    void open(const std::string& title) override;
    void show(const KoalaView& view) override;
    void close() override;

    KoalaPushPreviewView& view() { return *window; }

private:
    std::unique_ptr<KoalaPushPreviewView> window;
};

} // namespace tandem
