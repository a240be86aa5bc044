#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "appglobals.h"

#include <QPixmap>
#include <QTextCodec>

static void initAboutResources()
{
    // The resources live in a static library, whose registration the linker
    // would otherwise drop.
    Q_INIT_RESOURCE(overlaytuner);
}

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    initAboutResources();
    ui->setupUi(this);

    setWindowTitle(titleText());

    const QPixmap logo(QStringLiteral(":/LensBench/title.png"));
    ui->logoLabel->setPixmap(logo.scaled(64, 64, Qt::KeepAspectRatio, Qt::FastTransformation));

    ui->aboutText->setText(tr("Overlay tuner. Build ") + buildDateStamp(QStringLiteral(__DATE__)));
    ui->versionText->setText(tr("Version:") + appVersion);
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

QString AboutDialog::titleText()
{
    static const char gbkTitle[] = "\xB0\xE6\xB1\xBE\xD0\xC5\xCF\xA2";
    // Decoded as GBK wherever the tool runs, not in the local code page, which
    // would garble it on every system whose code page is not GBK.
    if (QTextCodec *gbk = QTextCodec::codecForName("GBK"))
        return gbk->toUnicode(gbkTitle);
    return QString::fromUtf8("\xE7\x89\x88\xE6\x9C\xAC\xE4\xBF\xA1\xE6\x81\xAF");
}

QString AboutDialog::buildDateStamp(const QString &buildDate)
{
    const QString text = tr("%1").arg(buildDate);
    const QStringList parts = text.split(tr(" "), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (parts.size() != 3 && parts.size() != 4)
        return QString();

    const QString months[] = {tr("Jan"), tr("Feb"), tr("Mar"), tr("Apr"), tr("May"), tr("Jun"),
                              tr("Jul"), tr("Aug"), tr("Sep"), tr("Oct"), tr("Nov"), tr("Dec")};
    const QString monthNumbers[] = {tr("01"), tr("02"), tr("03"), tr("04"), tr("05"), tr("06"),
                                    tr("07"), tr("08"), tr("09"), tr("10"), tr("11"), tr("12")};
    QString month = parts.first();
    for (int i = 0; i < 12; ++i) {
        if (month.compare(months[i], Qt::CaseSensitive) == 0) {
            month = monthNumbers[i];
            break;
        }
    }

    QString day = parts.at(parts.size() - 2);
    if (day.size() == 1)
        day = tr("0") + day;

    const QString year = parts.last();
    return year + month + day;
}
