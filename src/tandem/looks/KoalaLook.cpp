#include "tandem/looks/KoalaLook.h"

#include <QFontDatabase>

#include <algorithm>
#include <cmath>
#include <map>

namespace tandem::KoalaLook {

namespace {

std::filesystem::path& location() {
    static std::filesystem::path path = defaultKoalaLocation;
    return path;
}

} // namespace

QColor bank(int number) {
    return banks()[static_cast<size_t>(std::clamp(number, 0, 3))];
}

void useKoalaAt(std::filesystem::path path) {
    location() = std::move(path);
}

std::filesystem::path koalaLocation() {
    return location();
}

QString registerKoalaFont(const std::filesystem::path& application) {
    // Qt cannot take a font back out cheaply, and adding the same file again would only duplicate it,
    // so every answer is kept, a missing file's included.
    static std::map<std::filesystem::path, QString> registered;
    if (auto known = registered.find(application); known != registered.end()) return known->second;
    QString family;
    std::filesystem::path file = application / koalaFontFile;
    std::error_code error;
    if (std::filesystem::is_regular_file(file, error)) {
        int id = QFontDatabase::addApplicationFont(QString::fromStdString(file.string()));
        if (id >= 0) family = QFontDatabase::applicationFontFamilies(id).value(0);
    }
    registered.emplace(application, family);
    return family;
}

bool hasMediumFace(const QString& family) {
    const QStringList styles = QFontDatabase::styles(family);
    return std::any_of(styles.begin(), styles.end(), [&](const QString& style) {
        return QFontDatabase::weight(family, style) == QFont::Medium;
    });
}

FontChoice chooseFont(double size, const QString& koalaFamily, const QStringList& withMedium) {
    FontChoice choice;
    choice.pixelSize = std::max(1, static_cast<int>(std::lround(size)));
    if (!koalaFamily.isEmpty()) {
        choice.source = FontChoice::Source::koala;
        choice.family = koalaFamily;
        return choice;
    }
    for (const QString& rounded : roundedFamilies) {
        if (withMedium.contains(rounded)) {
            choice.source = FontChoice::Source::rounded;
            choice.family = rounded;
            return choice;
        }
    }
    return choice;
}

QFont makeFont(const FontChoice& choice) {
    QFont made = choice.family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                                         : QFont(choice.family);
    made.setPixelSize(choice.pixelSize);
    made.setWeight(QFont::Medium);
    return made;
}

QFont font(double size) {
    static const QStringList withMedium = [] {
        QStringList families;
        for (const QString& rounded : roundedFamilies)
            if (hasMediumFace(rounded)) families.append(rounded);
        return families;
    }();
    // Kept per choice: a QFont that has been drawn with holds on to its font engine, which a fresh one
    // would look up again on every use.
    static std::map<std::pair<QString, int>, QFont> made;
    FontChoice choice = chooseFont(size, registerKoalaFont(location()), withMedium);
    auto key = std::make_pair(choice.family, choice.pixelSize);
    auto found = made.find(key);
    if (found == made.end()) found = made.emplace(key, makeFont(choice)).first;
    return found->second;
}

} // namespace tandem::KoalaLook
