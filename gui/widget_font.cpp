#include "gui/widget_font.h"

#include "uitext/load_ui_setting.h"

#include <QApplication>
#include <QWidget>

namespace zrq406 {

QFont makeDialogFont(const DialogFont& font) {
    QFont result = QApplication::font();
    if (!font.faceName.empty())
        result.setFamily(QString::fromUtf8(font.faceName.data(), static_cast<qsizetype>(font.faceName.size())));
    if (font.tenthsOfPoint > 0)
        result.setPointSizeF(font.tenthsOfPoint / 10.0);
    return result;
}

void ApplyDialogFont(QWidget* dialog, CLoadUISetting& settings) {
    if (dialog == nullptr)
        return;
    const QFont font = makeDialogFont(settings.LoadDialogFont());
    dialog->setFont(font);
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setFont(font);
}

} // namespace zrq406
