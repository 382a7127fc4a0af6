#pragma once

#include <QString>
#include <QWidget>

class QSvgRenderer;

namespace zrq406 {

// A picture of the programs' own on a white background: one of the SVG pictures built into the programs
// (":/zrq406/<name>.svg"), drawn at the box's height at its left, with a soft band across the rest.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(const QString& picture, QWidget* parent = nullptr);
    // The application icon of both programs.
    static QIcon applicationIcon();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSvgRenderer* m_renderer;
};

// Makes the pictures of the gui library available (its resources live in a static library).
void initPictures();

} // namespace zrq406
