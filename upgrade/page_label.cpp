#include "upgrade/page_label.h"

#include <QLabel>

namespace zrq406 {

QLabel* makePageLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace zrq406
