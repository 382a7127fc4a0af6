#include "utility/link_chart_view.h"

#include "app/link_chart.h"
#include "gui/page_layout.h"

#include <QPainter>
#include <QPainterPath>

namespace zrq406::utility {

namespace {

const QColor kTransmit(0x1f, 0x6f, 0xc5);
const QColor kReceive(0x2e, 0x9e, 0x5c);
const QColor kDrop(0xd9, 0x3f, 0x3f, 0x40);
const QColor kUnanswered(0x80, 0x80, 0x80);
const QColor kPbErrors(0xc0, 0x6a, 0x00);

// The PB error axis' top in percent: 1, 2, 5, 10, 20, 50 or 100, at or above the highest rate.
double errorAxisTop(double worstPercent) {
    for (double top : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0})
        if (worstPercent <= top)
            return top;
    return 100.0;
}

} // namespace

LinkChartView::LinkChartView(QWidget* parent) : QWidget(parent), m_chart(std::make_unique<app::LinkChart>()) {
    // Reached by Tab, so that a screen reader reads the figures of the description.
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

LinkChartView::~LinkChartView() = default;

void LinkChartView::setChart(const app::LinkChart& chart, const QString& description, bool german) {
    *m_chart = chart;
    m_german = german;
    setAccessibleDescription(description);
    setToolTip(description);
    update();
}

void LinkChartView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("0000")) + 8;
    const int legendHeight = fm.height() + 6;
    const bool errors = m_chart->worstPbErrorRate.has_value();
    const int right = errors ? fm.horizontalAdvance(QStringLiteral("100 %")) + 8 : 12;
    const QRect plot(left, legendHeight + 4, width() - left - right, height() - legendHeight - 2 * fm.height() - 14);
    if (plot.width() < 20 || plot.height() < 20)
        return;
    const QColor text = palette().color(QPalette::Text);

    // The legend along the top, after the rate axis' unit.
    p.setPen(text);
    p.drawText(2, fm.ascent(), QStringLiteral("Mbit/s"));
    int x = std::max(left, fm.horizontalAdvance(QStringLiteral("Mbit/s")) + 14);
    const auto legendItem = [&](const QColor& colour, const QString& label) {
        p.fillRect(QRect(x, fm.height() / 2, 14, 4), colour);
        p.setPen(text);
        p.drawText(x + 18, fm.ascent(), label);
        x += 18 + fm.horizontalAdvance(label) + 16;
    };
    legendItem(kTransmit, m_legend.transmit);
    legendItem(kReceive, m_legend.receive);
    legendItem(QColor(0xd9, 0x3f, 0x3f, 0x90), m_legend.drop);
    legendItem(kUnanswered, m_legend.unanswered);
    if (errors)
        legendItem(kPbErrors, m_legend.pbErrors);

    const double span = std::max<double>(1, static_cast<double>(m_chart->end - m_chart->start));
    const double top = std::max<double>(1, m_chart->top);
    const auto xOf = [&](std::time_t t) { return plot.left() + plot.width() * (t - m_chart->start) / span; };
    const auto yOf = [&](double rate) { return plot.bottom() - plot.height() * rate / top; };

    // Axes with four rate lines and five times.
    p.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DotLine));
    for (int i = 0; i <= 4; ++i) {
        const double rate = top * i / 4;
        const int y = static_cast<int>(yOf(rate));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.save();
        p.setPen(text);
        p.drawText(QRect(0, y - fm.height() / 2, left - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(static_cast<int>(rate)));
        p.restore();
    }
    p.setPen(text);
    p.drawRect(plot);
    for (int i = 0; i <= 4; ++i) {
        const std::time_t t = m_chart->start + static_cast<std::time_t>(span * i / 4);
        const QString label = qtText(app::chartTimeText(t, m_german));
        const int lx = static_cast<int>(xOf(t)) - fm.horizontalAdvance(label) / 2;
        p.drawText(std::clamp(lx, 0, width() - fm.horizontalAdvance(label)), plot.bottom() + fm.height() + 8, label);
    }

    // Drops shaded from their first low scan to the scan back at the usual rate.
    for (const app::LinkDrop& d : m_chart->summary.drops) {
        const double x0 = xOf(d.start);
        const double x1 = xOf(d.end != 0 ? d.end : m_chart->end);
        p.fillRect(QRectF(x0, plot.top(), std::max(2.0, x1 - x0), plot.height()), kDrop);
    }

    // The rates as lines broken wherever a scan went unanswered.
    for (int line = 0; line < 2; ++line) {
        QPainterPath path;
        bool open = false;
        for (const app::LinkSample& s : m_chart->series.samples) {
            if (!s.answered) {
                open = false;
                continue;
            }
            const QPointF point(xOf(s.when), yOf(line == 0 ? s.transmitRate : s.receiveRate));
            if (open)
                path.lineTo(point);
            else
                path.moveTo(point);
            open = true;
        }
        p.setPen(QPen(line == 0 ? kTransmit : kReceive, 2, line == 0 ? Qt::SolidLine : Qt::DashLine));
        p.drawPath(path);
    }
    // The PB error rate against its own axis on the right, in percent.
    if (errors) {
        const double errorTop = errorAxisTop(*m_chart->worstPbErrorRate * 100.0);
        const auto yOfError = [&](double rate) { return plot.bottom() - plot.height() * rate * 100.0 / errorTop; };
        p.setPen(kPbErrors);
        for (int i = 0; i <= 4; ++i) {
            const double percent = errorTop * i / 4;
            const int y = static_cast<int>(yOfError(percent / 100.0));
            p.drawText(QRect(plot.right() + 4, y - fm.height() / 2, right - 4, fm.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, QString::number(percent) + QStringLiteral(" %"));
        }
        QPainterPath path;
        bool open = false;
        for (const app::LinkSample& s : m_chart->series.samples) {
            if (!s.answered || !s.pbErrorRate) {
                open = false;
                continue;
            }
            const QPointF point(xOf(s.when), yOfError(*s.pbErrorRate));
            if (open)
                path.lineTo(point);
            else
                path.moveTo(point);
            open = true;
        }
        p.setPen(QPen(kPbErrors, 2, Qt::DotLine));
        p.drawPath(path);
    }
    p.setPen(QPen(kUnanswered, 2));
    for (const app::LinkSample& s : m_chart->series.samples)
        if (!s.answered)
            p.drawLine(QPointF(xOf(s.when), plot.bottom() - 8), QPointF(xOf(s.when), plot.bottom()));

    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DashLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace zrq406::utility
