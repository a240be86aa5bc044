// The preview area: two framed native windows into which the camera SDK draws
// the live video of channels 1 and 2.
#ifndef CENTERWIDGET_H
#define CENTERWIDGET_H

#include <QList>
#include <QWidget>

namespace Ui {
class CenterWidget;
}

class CenterWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CenterWidget(QWidget *parent = nullptr);
    ~CenterWidget() override;

    // Native window of channel n at position n - 1; never changes.
    QList<WId> previewWindowIds() const;

private:
    Ui::CenterWidget *ui;
    QList<WId> previewWindows;
};

#endif // CENTERWIDGET_H
