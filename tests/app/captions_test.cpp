// Every window of the program as a user on Linux sees it (the offscreen platform measures with the same
// fonts as the desktop): no caption is cut, for every configuration the main and the verification windows
// can show; and Qt's own buttons and dialogs speak Russian.
#include <gtest/gtest.h>

#include "config/settingsform.h"
#include "journal/journalwindow.h"
#include "mainwindow/form1.h"
#include "presentation/controls/form13.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/parametergroupcomponent.h"
#include "presentation/controls/translations.h"
#include "testhome.h"
#include "tuning/form14.h"
#include "verification/report/form6.h"
#include "verification/scenariosettings.h"
#include "verification/window/form2.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>

#include <cmath>

namespace {

QString Plain(QString text)
{
    if (Qt::mightBeRichText(text)) {
        QTextDocument doc;
        doc.setHtml(text);
        text = doc.toPlainText();
    }
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove('&').replace('\x01', '&');
}

double Widest(const QFontMetricsF &fm, const QString &text)
{
    double widest = 0;
    for (const QString &line : text.split('\n'))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

// "Class «caption»: needs N px, has M" for every visible caption of `top` narrower than its text.
QStringList CutCaptions(QWidget *top)
{
    QStringList cut;
    const auto report = [&](QWidget *w, const QString &text, double needs, int has) {
        if (needs > has + 0.5)
            cut << QStringLiteral("%1 «%2»: нужно %3, есть %4")
                       .arg(QString::fromLatin1(w->metaObject()->className()), text)
                       .arg(needs, 0, 'f', 1)
                       .arg(has);
    };
    for (QWidget *w : top->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(top) || w->width() <= 0)
            continue;
        const QFontMetricsF fm(w->font());
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const QString text = Plain(label->text());
            if (text.trimmed().isEmpty() || label->wordWrap() || !label->pixmap().isNull())
                continue;
            const int has = label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
            const double needs = Widest(fm, text);
            report(w, text, needs, has);
            // A sibling stacked above the text hides it as surely as a narrow label.
            if (QWidget *parent = label->parentWidget()) {
                const QRect textRect(label->x(), label->y(), int(std::ceil(needs)), label->height());
                const QObjectList &siblings = parent->children();
                for (qsizetype i = siblings.indexOf(label) + 1; i < siblings.size(); ++i) {
                    auto *above = qobject_cast<QWidget *>(siblings[i]);
                    if (above && above->isVisibleTo(top) && above->geometry().intersects(textRect))
                        cut << QStringLiteral("QLabel «%1»: закрыта %2").arg(text, above->objectName());
                }
            }
            const double lines = text.count('\n') + 1;
            report(w, text + QStringLiteral(" (высота)"), lines * fm.height() - 1, label->contentsRect().height());
        } else if (auto *box = qobject_cast<QGroupBox *>(w)) {
            if (!box->title().isEmpty())
                report(w, box->title(), Widest(fm, Plain(box->title())) + 8, box->width());
        } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) {
            auto *button = static_cast<QAbstractButton *>(w);
            if (button->text().isEmpty())
                continue;
            // The indicator and its spacing come before the text.
            QStyleOptionButton option;
            option.initFrom(button);
            const bool check = qobject_cast<QCheckBox *>(w);
            const int indicator = button->style()->pixelMetric(
                check ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth, &option, button);
            const int spacing = button->style()->pixelMetric(
                check ? QStyle::PM_CheckBoxLabelSpacing : QStyle::PM_RadioButtonLabelSpacing, &option, button);
            report(w, button->text(), indicator + spacing + Widest(fm, Plain(button->text())), button->width());
        } else if (auto *push = qobject_cast<QPushButton *>(w)) {
            if (!push->text().isEmpty())
                report(w, push->text(), Widest(fm, Plain(push->text())) + 4, push->contentsRect().width());
        }
    }
    return cut;
}

struct TMessages {
    QStringList texts;
    TMessageService::THandler previous = TMessageService::SetHandler([this](QWidget *, const auto &m) {
        texts << m.text;
        return QMessageBox::Ok;
    });
    ~TMessages() { TMessageService::SetHandler(previous); }
};

void ExpectWhole(QWidget *w, const char *where = "")
{
    const QStringList cut = CutCaptions(w);
    EXPECT_TRUE(cut.isEmpty()) << where << ":\n" << cut.join('\n').toStdString();
}

void Settle(QWidget *w)
{
    w->show();
    QCoreApplication::processEvents();
}

} // namespace

TEST(Captions, NoWindowCutsItsCaptionsInAnyConfiguration)
{
    KestTestHome::Root();
    TMessages messages;
    TForm1::TOptions options;
    options.checkForUpdates = false;
    TForm1 main(options);
    Settle(&main);
    const QStringList configurations = ConfigurationNames();
    for (const QString &name : configurations) {
        SCOPED_TRACE(name.toStdString());
        main.ConfigurationList()->setCurrentIndex(main.ConfigurationList()->findText(name));
        QCoreApplication::processEvents();
        // The readouts' unit labels hold the widest unit a prefix makes.
        for (const QString &unit : {QStringLiteral("MV·A"), QStringLiteral("MVar"), QStringLiteral("kV·A")}) {
            for (TParameterGroupComponent *readout : main.findChildren<TParameterGroupComponent *>())
                readout->SetMeasure(unit);
            ExpectWhole(&main, "главное окно, единицы с приставкой");
        }
        ExpectWhole(&main, "главное окно");

        const TConfigurationCode code = *ConfigurationFromName(name);
        std::unique_ptr<TForm2> verification(CreateVerificationWindow(&main.Config(), code, nullptr));
        Settle(verification.get());
        ExpectWhole(verification.get(), "автоповерка");

        std::unique_ptr<TSuperScenarioSettings> scenario = CreateScenarioSettings(code);
        scenario->Init(&main.Config(), 0);
        Settle(scenario.get());
        ExpectWhole(scenario.get(), "сценарий");
    }
    std::unique_ptr<TForm14> tuning(CreateTuningWindow(&main.Config(), nullptr, nullptr));
    TSettingsForm settings;
    TForm6 header(&main.Config());
    TJournalOptions journalOptions;
    journalOptions.localFile = KestTestHome::NewFolder() + QStringLiteral("/journal.sqlite");
    TJournal store(journalOptions);
    store.Open();
    TJournalWindow journal(&store);
    TForm13 coefficients(&main.Config(), TTransfCoefs{100, 5, 10000, 100});
    for (QWidget *w : std::initializer_list<QWidget *>{tuning.get(), &settings, &header, &journal, &coefficients}) {
        SCOPED_TRACE(w->metaObject()->className());
        Settle(w);
        ExpectWhole(w);
        w->hide();
    }
}

// Qt's own texts: a question's buttons, the file dialog's buttons and its labels.
TEST(Captions, QtsStandardButtonsAndDialogsAreRussian)
{
    ASSERT_TRUE(KestTranslations::Install(*QCoreApplication::instance()))
        << "Qt's Russian catalogues are missing (qt6-translations-l10n)";
    QMessageBox box(QMessageBox::Question, QStringLiteral("Вопрос"), QStringLiteral("Продолжить?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(Plain(box.button(QMessageBox::Yes)->text()), QStringLiteral("Да"));
    EXPECT_EQ(Plain(box.button(QMessageBox::No)->text()), QStringLiteral("Нет"));
    EXPECT_EQ(Plain(box.button(QMessageBox::Cancel)->text()), QStringLiteral("Отмена"));

    QFileDialog dialog(nullptr, QStringLiteral("Сохранить"), QString(), QStringLiteral("CSV (*.csv)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList english;
    for (QWidget *w : dialog.findChildren<QWidget *>()) {
        QString text;
        if (auto *label = qobject_cast<QLabel *>(w))
            text = Plain(label->text());
        else if (auto *button = qobject_cast<QPushButton *>(w))
            text = Plain(button->text());
        if (text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{3,}"))) && !text.contains(QStringLiteral("CSV")))
            english << text;
    }
    EXPECT_EQ(english, QStringList());
}
