#pragma once

#include <string>

namespace zrq406 {

// A window whose text and rectangle the language file sets: a Qt widget in the GUIs, a recorder in tests. The
// loader receives nullptr for a control that could not be found and then moves nothing.
class ControlTarget {
public:
    virtual ~ControlTarget() = default;
    // Replaces the control's text (a window's title for top-level windows).
    virtual void setText(const std::string& text) = 0;
    // Moves and sizes the control within its parent's client area, in pixels, without changing its z-order.
    virtual void setGeometry(int x, int y, int width, int height) = 0;
};

} // namespace zrq406
