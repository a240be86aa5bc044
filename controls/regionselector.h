// A still of channel 1, drawn scaled to fit, on which the technician drags a
// rectangle around the distance that matters. The rectangle is kept in the
// picture's own pixels, whatever size the still is drawn at.
#ifndef REGIONSELECTOR_H
#define REGIONSELECTOR_H

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

class RegionSelector : public QWidget
{
    Q_OBJECT

public:
    explicit RegionSelector(QWidget *parent = nullptr);

    // A new still forgets the region; a null image shows text instead.
    void setPicture(const QImage &image, const QString &text = QString());
    QImage picture() const { return m_image; }

    // In picture coordinates; empty for the whole picture.
    QRect region() const { return m_region; }
    void setRegion(const QRect &region);
    void clearRegion();

    QSize sizeHint() const override;

signals:
    void regionChanged(const QRect &region);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Where the picture is drawn inside the widget, aspect ratio kept.
    QRectF pictureArea() const;
    QPoint toPicture(const QPoint &widgetPoint) const;
    QRectF toWidget(const QRect &pictureRect) const;

    QImage m_image;
    QString m_text;
    QRect m_region;
    QPoint m_anchor;
    bool m_dragging = false;
};

#endif // REGIONSELECTOR_H
