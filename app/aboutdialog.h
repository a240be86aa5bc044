// The About dialog: logo, program name with its build date, version text.
#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

#include <QDialog>

namespace Ui {
class AboutDialog;
}

class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    // Turns a build-date text such as "May  7 2018" into "20180507".
    static QString buildDateStamp(const QString &buildDate);

    // The title's text, kept as GBK bytes.
    static QString titleText();

private:
    Ui::AboutDialog *ui;
};

#endif // ABOUTDIALOG_H
