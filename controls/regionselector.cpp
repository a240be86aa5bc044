#include "regionselector.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

RegionSelector::RegionSelector(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::CrossCursor);
}

QSize RegionSelector::sizeHint() const
{
    return QSize(480, 270);
}

void RegionSelector::setPicture(const QImage &image, const QString &text)
{
    m_image = image;
    m_text = text;
    m_dragging = false;
    clearRegion();
    update();
}

void RegionSelector::setRegion(const QRect &region)
{
    const QRect bounded = region.normalized() & m_image.rect();
    // A click without a drag, or a sliver, would leave too little to measure.
    const QRect kept = bounded.width() >= 4 && bounded.height() >= 4 ? bounded : QRect();
    if (kept == m_region)
        return;
    m_region = kept;
    update();
    emit regionChanged(m_region);
}

void RegionSelector::clearRegion()
{
    setRegion(QRect());
}

QRectF RegionSelector::pictureArea() const
{
    if (m_image.isNull())
        return QRectF();
    const QSizeF drawn = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    return QRectF(QPointF((width() - drawn.width()) / 2, (height() - drawn.height()) / 2), drawn);
}

QPoint RegionSelector::toPicture(const QPoint &widgetPoint) const
{
    const QRectF area = pictureArea();
    if (area.isEmpty())
        return QPoint();
    const double scale = m_image.width() / area.width();
    const int x = int(std::floor((widgetPoint.x() - area.left()) * scale));
    const int y = int(std::floor((widgetPoint.y() - area.top()) * scale));
    return QPoint(qBound(0, x, m_image.width()), qBound(0, y, m_image.height()));
}

QRectF RegionSelector::toWidget(const QRect &pictureRect) const
{
    const QRectF area = pictureArea();
    const double scale = area.width() / m_image.width();
    return QRectF(area.left() + pictureRect.x() * scale, area.top() + pictureRect.y() * scale,
                  pictureRect.width() * scale, pictureRect.height() * scale);
}

void RegionSelector::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().dark());
    if (m_image.isNull()) {
        painter.setPen(palette().brightText().color());
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_text);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureArea(), m_image);
    if (m_region.isEmpty())
        return;
    painter.setPen(QPen(Qt::yellow, 2));
    painter.setBrush(QColor(255, 255, 0, 40));
    painter.drawRect(toWidget(m_region));
}

void RegionSelector::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_image.isNull() || !isEnabled())
        return;
    m_dragging = true;
    m_anchor = toPicture(event->pos());
}

void RegionSelector::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    // QRect's corners are inclusive; the region spans the pixels dragged over.
    setRegion(QRect(m_anchor, toPicture(event->pos())).normalized());
}

void RegionSelector::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    mouseMoveEvent(event);
    m_dragging = false;
}
