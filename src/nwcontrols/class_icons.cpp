#include "nwcontrols/class_icons.h"

#include "platform/text.h"
#include "platform/widgets.h"

#include <QPainter>
#include <QPainterPath>

#include <array>
#include <functional>

namespace nwcontrols {

namespace {

const QColor kOutline(40, 40, 40);
const QColor kSkin(238, 190, 140);

QPixmap draw(const std::function<void(QPainter &)> &paint)
{
    QPixmap pixmap = platform::canvas(16, 16);
    QPainter painter(&pixmap);
    painter.setPen(kOutline);
    paint(painter);
    return pixmap;
}

void person(QPainter &p, int x, int y, const QColor &shirt)
{
    p.setBrush(kSkin);
    p.drawEllipse(x + 2, y, 4, 4);
    p.setBrush(shirt);
    p.drawRoundedRect(x, y + 5, 8, 6, 2, 2);
}

void box(QPainter &p, int x, int y, int w, int h, const QColor &fill)
{
    p.setBrush(fill);
    p.drawRect(x, y, w, h);
}

} // namespace

QList<QPixmap> classIcons()
{
    const QColor blue(70, 110, 200);
    const QColor yellow(240, 200, 60);
    return {
        draw([](QPainter &p) { // any other class: a grey frame around a cyan panel
            p.setPen(QColor(128, 128, 128));
            box(p, 1, 2, 13, 11, QColor(192, 192, 192));
            p.setPen(Qt::NoPen);
            box(p, 3, 4, 10, 8, QColor(0, 200, 220));
        }),
        draw([&](QPainter &p) { person(p, 4, 2, blue); }), // User
        draw([&](QPainter &p) { // Organizational Unit: a box linked to a column of three
            box(p, 1, 1, 5, 4, yellow);
            p.drawLine(3, 5, 3, 13);
            for (int y : {5, 9, 13})
                p.drawLine(3, y, 8, y);
            for (int y : {3, 7, 11})
                box(p, 9, y, 5, 4, QColor(150, 200, 255));
        }),
        draw([&](QPainter &p) { // Group: three persons
            person(p, 4, 0, QColor(200, 80, 80));
            person(p, 0, 4, blue);
            person(p, 8, 4, QColor(60, 160, 80));
        }),
        draw([&](QPainter &p) { // Organization: one box above three
            box(p, 5, 1, 5, 4, yellow);
            p.drawLine(7, 5, 7, 8);
            p.drawLine(2, 8, 12, 8);
            for (int x : {0, 5, 10}) {
                p.drawLine(x + 2, 8, x + 2, 10);
                box(p, x, 10, 4, 4, QColor(150, 200, 255));
            }
        }),
        draw([&](QPainter &p) { // Organizational Role: a person at a desk
            person(p, 4, 1, blue);
            box(p, 0, 10, 15, 3, QColor(160, 110, 60));
            p.drawLine(2, 13, 2, 15);
            p.drawLine(12, 13, 12, 15);
        }),
        draw([](QPainter &p) { // Root / Top: a globe
            p.setRenderHint(QPainter::Antialiasing);
            p.setBrush(QColor(80, 150, 230));
            p.drawEllipse(QRectF(1.5, 1.5, 12, 12));
            p.setPen(QColor(40, 140, 60));
            p.setBrush(QColor(60, 170, 80));
            p.drawEllipse(QRectF(4, 4, 4, 3));
            p.drawEllipse(QRectF(8, 8, 3, 4));
            p.setPen(QColor(255, 255, 255, 140));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(1.5, 7.5), QPointF(13.5, 7.5));
        }),
        draw([](QPainter &p) { // Tree
            p.setBrush(QColor(110, 70, 30));
            p.drawRect(6, 10, 3, 5);
            p.setBrush(QColor(40, 150, 50));
            QPainterPath crown;
            crown.moveTo(7.5, 0.5);
            crown.lineTo(14, 11);
            crown.lineTo(1, 11);
            crown.closeSubpath();
            p.drawPath(crown);
        }),
        draw([](QPainter &p) { // Template: a document with a folded corner
            QPainterPath page;
            page.moveTo(2, 1);
            page.lineTo(10, 1);
            page.lineTo(13, 4);
            page.lineTo(13, 14);
            page.lineTo(2, 14);
            page.closeSubpath();
            p.setBrush(Qt::white);
            p.drawPath(page);
            p.drawLine(10, 1, 10, 4);
            p.drawLine(10, 4, 13, 4);
            p.setPen(QColor(140, 140, 140));
            for (int y : {6, 8, 10, 12})
                p.drawLine(4, y, 11, y);
        }),
        draw([](QPainter &p) { // Volume: a filing cabinet
            box(p, 2, 0, 11, 15, QColor(170, 170, 180));
            for (int y : {1, 6, 11}) {
                box(p, 3, y, 9, 3, QColor(200, 200, 210));
                p.drawLine(6, y + 1, 9, y + 1);
            }
        }),
    };
}

qint32 classCode(const QString &className)
{
    struct Code {
        const char *name;
        qint32 code;
    };
    static constexpr std::array<Code, 10> kCodes = {{{"USER", 1},
                                                    {"ORGANIZATIONAL UNIT", 2},
                                                    {"GROUP", 3},
                                                    {"ORGANIZATION", 4},
                                                    {"ORGANIZATIONAL ROLE", 5},
                                                    {"ROOT", 6},
                                                    {"TOP", 6},
                                                    {"TREE", 7},
                                                    {"TEMPLATE", 8},
                                                    {"VOLUME", 9}}};
    const QString upper = platform::upperAscii(className);
    for (const Code &entry : kCodes) {
        if (upper == QLatin1String(entry.name))
            return entry.code;
    }
    return 0;
}

QString classTitle(qint32 code)
{
    static const std::array<QString, 10> kTitles = {
        QStringLiteral("Objekt"),       QStringLiteral("Benutzer"),
        QStringLiteral("Organisatorische Einheit"), QStringLiteral("Gruppe"),
        QStringLiteral("Organisation"), QStringLiteral("Organisatorische Rolle"),
        QStringLiteral("Wurzel des Baums"), QStringLiteral("Baum"),
        QStringLiteral("Vorlage"),      QStringLiteral("Datenträger"),
    };
    return code >= 0 && code < static_cast<qint32>(kTitles.size()) ? kTitles.at(static_cast<size_t>(code)) : kTitles.front();
}

} // namespace nwcontrols
