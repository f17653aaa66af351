#include "widgets/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace lanquill::widgets {

namespace {

const QColor Ink(33, 53, 85);
const QColor Sky(58, 110, 165);
const QColor Leaf(46, 160, 67);
const QColor Alarm(200, 48, 48);

QPixmap canvas(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A monitor on a foot, within `box`; `screen` colours the glass.
void drawComputer(QPainter& p, const QRectF& box, const QColor& screen) {
    const qreal w = box.width();
    const qreal h = box.height();
    const QRectF frame(box.left() + w * 0.06, box.top() + h * 0.08, w * 0.88, h * 0.64);
    p.setPen(QPen(Ink, qMax<qreal>(1.0, w / 20)));
    p.setBrush(QColor(236, 240, 245));
    p.drawRoundedRect(frame, w * 0.08, w * 0.08);
    QLinearGradient glass(frame.topLeft(), frame.bottomRight());
    glass.setColorAt(0, screen.lighter(150));
    glass.setColorAt(1, screen);
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawRect(frame.adjusted(w * 0.08, h * 0.08, -w * 0.08, -h * 0.08));
    p.setBrush(Ink);
    p.drawRect(QRectF(box.left() + w * 0.42, frame.bottom(), w * 0.16, h * 0.12));
    p.drawRoundedRect(QRectF(box.left() + w * 0.24, frame.bottom() + h * 0.12, w * 0.52, h * 0.1),
                      w * 0.04, w * 0.04);
}

void drawBadge(QPainter& p, const QRectF& box, const QColor& colour, bool plus, bool cross) {
    p.setPen(QPen(Qt::white, box.width() / 10));
    p.setBrush(colour);
    p.drawEllipse(box);
    p.setPen(QPen(Qt::white, box.width() / 6, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = box.center();
    const qreal r = box.width() * 0.25;
    if (plus) {
        p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
    }
    if (cross) {
        p.drawLine(QPointF(c.x() - r, c.y() - r), QPointF(c.x() + r, c.y() + r));
        p.drawLine(QPointF(c.x() - r, c.y() + r), QPointF(c.x() + r, c.y() - r));
    }
}

void drawFolder(QPainter& p, const QRectF& box) {
    QPainterPath path;
    const qreal w = box.width();
    const qreal h = box.height();
    path.moveTo(box.left(), box.top() + h * 0.2);
    path.lineTo(box.left() + w * 0.4, box.top() + h * 0.2);
    path.lineTo(box.left() + w * 0.5, box.top() + h * 0.32);
    path.lineTo(box.right(), box.top() + h * 0.32);
    path.lineTo(box.right(), box.bottom() - h * 0.1);
    path.lineTo(box.left(), box.bottom() - h * 0.1);
    path.closeSubpath();
    p.setPen(QPen(QColor(150, 110, 20), qMax<qreal>(1.0, w / 20)));
    p.setBrush(QColor(244, 196, 72));
    p.drawPath(path);
}

// A quill pen crossing a speech bubble.
void drawQuillBubble(QPainter& p, const QRectF& box) {
    const qreal w = box.width();
    const qreal h = box.height();
    QPainterPath bubble;
    const QRectF body(box.left() + w * 0.04, box.top() + h * 0.12, w * 0.8, h * 0.6);
    bubble.addRoundedRect(body, w * 0.16, w * 0.16);
    QPainterPath tail;
    tail.moveTo(body.left() + w * 0.18, body.bottom() - 1);
    tail.lineTo(body.left() + w * 0.1, box.bottom() - h * 0.06);
    tail.lineTo(body.left() + w * 0.4, body.bottom() - 1);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, Sky.lighter(140));
    fill.setColorAt(1, Sky);
    p.setPen(QPen(Ink, qMax<qreal>(1.0, w / 24)));
    p.setBrush(fill);
    p.drawPath(bubble);

    QPainterPath feather;
    feather.moveTo(box.left() + w * 0.36, box.top() + h * 0.66);
    feather.cubicTo(box.left() + w * 0.5, box.top() + h * 0.3, box.left() + w * 0.78,
                    box.top() + h * 0.08, box.right() - w * 0.02, box.top() + h * 0.02);
    feather.cubicTo(box.right() - w * 0.1, box.top() + h * 0.3, box.left() + w * 0.66,
                    box.top() + h * 0.5, box.left() + w * 0.36, box.top() + h * 0.66);
    p.setPen(QPen(Ink, qMax<qreal>(1.0, w / 32)));
    p.setBrush(Qt::white);
    p.drawPath(feather);
    p.drawLine(QPointF(box.left() + w * 0.36, box.top() + h * 0.66),
               QPointF(box.left() + w * 0.3, box.top() + h * 0.76));
}

} // namespace

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap = canvas(size);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        drawQuillBubble(p, QRectF(0, 0, size, size));
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap logoPixmap() {
    return programIcon().pixmap(32, 32);
}

QPixmap computerPixmap(int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawComputer(p, QRectF(0, 0, size, size), QColor(70, 140, 210));
    return pixmap;
}

QPixmap groupPixmap(int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size * 0.6;
    drawComputer(p, QRectF(0, 0, s, s), QColor(90, 170, 90));
    drawComputer(p, QRectF(size - s, 0, s, s), QColor(220, 160, 60));
    drawComputer(p, QRectF((size - s) / 2, size - s, s, s), QColor(70, 140, 210));
    return pixmap;
}

QPixmap onlinePixmap(int size) {
    QPixmap pixmap = computerPixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawBadge(p, QRectF(size * 0.55, size * 0.5, size * 0.45, size * 0.45), Leaf, true, false);
    return pixmap;
}

QPixmap offlinePixmap(int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawComputer(p, QRectF(0, 0, size, size), QColor(120, 120, 120));
    drawBadge(p, QRectF(size * 0.55, size * 0.5, size * 0.45, size * 0.45), Alarm, false, true);
    return pixmap;
}

QPixmap refreshPixmap(int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF ring(size * 0.18, size * 0.18, size * 0.64, size * 0.64);
    p.setPen(QPen(Leaf, size / 8.0, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(ring, 60 * 16, 280 * 16);
    QPainterPath head;
    head.moveTo(size * 0.56, size * 0.02);
    head.lineTo(size * 0.86, size * 0.2);
    head.lineTo(size * 0.54, size * 0.36);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Leaf);
    p.drawPath(head);
    return pixmap;
}

QPixmap menuPixmap(int index, int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF all(0, 0, size, size);
    const QRectF badge(size * 0.5, size * 0.5, size * 0.5, size * 0.5);
    switch (index) {
    case 0: { // find
        p.setPen(QPen(Ink, size / 8.0, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(QColor(200, 225, 250));
        p.drawEllipse(QRectF(size * 0.1, size * 0.1, size * 0.55, size * 0.55));
        p.drawLine(QPointF(size * 0.58, size * 0.58), QPointF(size * 0.9, size * 0.9));
        break;
    }
    case 1: // delete group
        drawFolder(p, all);
        drawBadge(p, badge, Alarm, false, true);
        break;
    case 2: // add group
        drawFolder(p, all);
        drawBadge(p, badge, Leaf, true, false);
        break;
    case 3: // details
        drawComputer(p, all, QColor(70, 140, 210));
        break;
    case 4: // delete member
        drawComputer(p, all, QColor(70, 140, 210));
        drawBadge(p, badge, Alarm, false, true);
        break;
    case 5: { // exit
        p.setPen(QPen(Alarm, size / 8.0, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(size * 0.15, size * 0.2, size * 0.7, size * 0.7), 120 * 16, 300 * 16);
        p.drawLine(QPointF(size * 0.5, size * 0.08), QPointF(size * 0.5, size * 0.5));
        break;
    }
    case 6: // open window
        drawQuillBubble(p, all);
        break;
    default:
        break;
    }
    return pixmap;
}

} // namespace lanquill::widgets
