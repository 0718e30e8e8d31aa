#pragma once

namespace tandem {

// Points, sizes and rectangles in points. Which way y runs depends on the coordinate space, and each
// use says which: global window-system coordinates (origin at the bottom-left of the first screen, y
// up) or display coordinates (origin at the top-left of the first screen, y down).
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    Point origin() const { return {x, y}; }
    Size size() const { return {width, height}; }
    // Half-open, as the window system tests a point against a rectangle.
    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }

    bool operator==(const Rect&) const = default;
};

} // namespace tandem
