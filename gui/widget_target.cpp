#include "gui/widget_target.h"

#include <QMetaProperty>
#include <QString>
#include <QWidget>

namespace zrq406 {

namespace {

bool writeStaticProperty(QWidget* widget, const char* name, const QString& value) {
    const QMetaObject* meta = widget->metaObject();
    const int index = meta->indexOfProperty(name);
    if (index < 0 || !meta->property(index).isWritable())
        return false;
    return meta->property(index).write(widget, value);
}

} // namespace

void WidgetTarget::setText(const std::string& text) {
    if (m_widget == nullptr)
        return;
    const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (m_widget->isWindow()) {
        m_widget->setWindowTitle(value);
        return;
    }
    // Only a declared property is written: setProperty() would otherwise add a dynamic one that shows nothing.
    if (!writeStaticProperty(m_widget, "text", value))
        writeStaticProperty(m_widget, "title", value);
}

void WidgetTarget::setGeometry(int x, int y, int width, int height) {
    if (m_widget != nullptr)
        m_widget->setGeometry(x, y, width, height);
}

} // namespace zrq406
