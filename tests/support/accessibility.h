#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QWidget>
#include <string>
#include <vector>

namespace zrq406::test {

// The controls below `root` that a screen reader could not name: buttons, edits, lists, combo boxes, progress
// bars and pictures (any widget with an objectName ending in a picture box's node) whose accessible name is empty.
inline std::vector<std::string> unnamedControls(QWidget* root) {
    std::vector<std::string> unnamed;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<QAbstractButton*>(widget) != nullptr || qobject_cast<QLineEdit*>(widget) != nullptr ||
            qobject_cast<QComboBox*>(widget) != nullptr || qobject_cast<QProgressBar*>(widget) != nullptr ||
            widget->objectName().startsWith(QLatin1String("pictureBox")) ||
            (qobject_cast<QAbstractItemView*>(widget) != nullptr &&
             qobject_cast<QAbstractItemView*>(widget->parentWidget()) == nullptr);
        // Parts that Qt makes for itself (scroll bars, a combo box's own edit, header views) are named by it.
        if (!control || widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible == nullptr || accessible->text(QAccessible::Name).trimmed().isEmpty())
            unnamed.push_back(widget->objectName().toStdString());
    }
    return unnamed;
}

} // namespace zrq406::test
