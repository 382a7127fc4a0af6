#pragma once

#include "uitext/basic_ctrl_info.h"

#include <QFont>

class QWidget;

namespace zrq406 {

class CLoadUISetting;

// The dialog font: the named face at a size in tenths of a point; size 0 keeps the default size.
QFont makeDialogFont(const DialogFont& font);

// Sets the language file's dialog font on a dialog and on each of its direct children.
void ApplyDialogFont(QWidget* dialog, CLoadUISetting& settings);

} // namespace zrq406
