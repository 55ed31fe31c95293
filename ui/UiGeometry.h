#pragma once
// Points, sizes and rectangles in whole pixels or dialog units, for the layouts every window
// shares. A rectangle is its top-left corner and its size; Right() and Bottom() are the first
// column and row past it, as window systems that count in edges (not in pixels) have them.
// Each toolkit converts these at its own edge.

namespace tarvex {

struct UiPoint {
    int X = 0;
    int Y = 0;

    friend constexpr bool operator==(const UiPoint&, const UiPoint&) = default;
};

constexpr UiPoint operator+(UiPoint a, UiPoint b) {
    return {a.X + b.X, a.Y + b.Y};
}

struct UiSize {
    int Width = 0;
    int Height = 0;

    friend constexpr bool operator==(const UiSize&, const UiSize&) = default;
};

struct UiRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    constexpr int Right() const { return Left + Width; }
    constexpr int Bottom() const { return Top + Height; }
    constexpr UiPoint TopLeft() const { return {Left, Top}; }
    constexpr UiSize Size() const { return {Width, Height}; }
    constexpr bool IsEmpty() const { return Width <= 0 || Height <= 0; }

    // Whether `inner` lies wholly inside; an empty rectangle lies inside none.
    constexpr bool Contains(const UiRect& inner) const {
        return !IsEmpty() && !inner.IsEmpty() && inner.Left >= Left && inner.Top >= Top &&
               inner.Right() <= Right() && inner.Bottom() <= Bottom();
    }

    // Whether the two share at least one pixel; rectangles that only touch do not.
    constexpr bool Intersects(const UiRect& other) const {
        return !IsEmpty() && !other.IsEmpty() && Left < other.Right() && other.Left < Right() &&
               Top < other.Bottom() && other.Top < Bottom();
    }

    friend constexpr bool operator==(const UiRect&, const UiRect&) = default;
};

}  // namespace tarvex
