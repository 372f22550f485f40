#include "ui/picture_button.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace ui {

PictureButton::PictureButton(QWidget *parent)
    : QToolButton(parent)
{
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void PictureButton::setGlyph(const QPixmap &glyph)
{
    m_glyph = glyph;
    rebuildIcon();
}

void PictureButton::setNumGlyphs(int count)
{
    m_numGlyphs = qBound(1, count, 3);
    rebuildIcon();
}

QPixmap PictureButton::frame(int index) const
{
    if (m_glyph.isNull() || index >= m_numGlyphs)
        return {};
    // In device pixels, which the glyph may have more of than it shows (2 × scale).
    const int width = m_glyph.width() / m_numGlyphs;
    QPixmap picture = m_glyph.copy(index * width, 0, width, m_glyph.height());
    picture.setDevicePixelRatio(m_glyph.devicePixelRatio());
    return picture;
}

void PictureButton::rebuildIcon()
{
    QIcon icon;
    if (!m_glyph.isNull()) {
        const QPixmap normal = frame(0);
        icon.addPixmap(normal, QIcon::Normal);
        if (m_numGlyphs >= 2)
            icon.addPixmap(frame(1), QIcon::Disabled); // else Qt greys the normal frame
        setIconSize(normal.deviceIndependentSize().toSize());
    }
    setIcon(icon);
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    if (isDown() && m_numGlyphs >= 3)
        option.icon = QIcon(frame(2));
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
}

} // namespace ui
