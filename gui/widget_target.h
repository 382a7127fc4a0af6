#pragma once

#include "uitext/control_target.h"

class QWidget;

namespace zrq406 {

// A Qt widget as the target of the language file's texts and rectangles.
class WidgetTarget : public ControlTarget {
public:
    explicit WidgetTarget(QWidget* widget) : m_widget(widget) {}

    // A window's title; else the widget's "text" property (a group box's "title"); others have no text.
    void setText(const std::string& text) override;
    void setGeometry(int x, int y, int width, int height) override;

private:
    QWidget* m_widget;
};

} // namespace zrq406
