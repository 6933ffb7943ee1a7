#pragma once

#include <QFrame>
#include <QPixmap>

namespace tromel::gui {

/// A container with a flat one-pixel border and the window background colour that draws its
/// picture unscaled at the top left of its client area, clipped by the border.
class PictureBox final : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace tromel::gui
