#pragma once

#include <QPixmap>
#include <QToolButton>

namespace ui {

// A button showing a picture cut into 1 to 3 frames of equal width: normal,
// disabled and pressed look. With one frame the disabled look is a greyed
// rendering of it.
class PictureButton : public QToolButton {
    Q_OBJECT
public:
    explicit PictureButton(QWidget *parent);

    void setGlyph(const QPixmap &glyph);
    void setNumGlyphs(int count);
    [[nodiscard]] int numGlyphs() const { return m_numGlyphs; }
    [[nodiscard]] const QPixmap &glyph() const { return m_glyph; }

    // The frame shown for a state: 0 normal, 1 disabled, 2 pressed.
    [[nodiscard]] QPixmap frame(int index) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuildIcon();
    QPixmap m_glyph;
    int m_numGlyphs = 1;
};

} // namespace ui
