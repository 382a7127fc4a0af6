#pragma once

#include <QLabel>
#include <QUrl>
#include <functional>

namespace zrq406 {

// A web address shown as a link: underlined in the link colour, reached with Tab, opened with a click, Enter or
// Space in the desktop's browser. Only http and https addresses are opened, whatever the text holds.
class HyperlinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit HyperlinkLabel(QWidget* parent = nullptr);

    // The address of the text, if it is an http or https address.
    QUrl url() const;
    // Replaces the desktop's way of opening an address (tests).
    void setOpener(std::function<bool(const QUrl&)> opener) { m_opener = std::move(opener); }
    // Opens the address; false when the text is no web address or it could not be opened.
    bool activate();

Q_SIGNALS:
    void activated(const QUrl& url);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::function<bool(const QUrl&)> m_opener;
};

} // namespace zrq406
