#pragma once

class QLabel;
class QWidget;

namespace zrq406 {

// A static text of the wizard's pages: plain text whatever it holds (device names come from the network and the
// history file), wrapped within its rectangle, from its top left corner.
QLabel* makePageLabel(QWidget* parent);

} // namespace zrq406
