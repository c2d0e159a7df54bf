#include "tuning/form15.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "presentation/controls/messageservice.h"

namespace {

// The lists are read and written through their text, so a value outside the items can be shown.
QComboBox *TextList(QWidget *parent, const QString &name, const QStringList &items, int x, int y)
{
    auto *list = new QComboBox(parent);
    list->setObjectName(name);
    list->setEditable(true);
    list->addItems(items);
    list->setGeometry(x, y, 90, 24);
    return list;
}

} // namespace

TForm15::TForm15(QWidget *parent) : QDialog(parent), logic_(this)
{
    setObjectName(QStringLiteral("Form15"));
    setWindowTitle(QStringLiteral("Form15"));
    setFixedSize(330, 190);
    auto label = [this](const QString &text, int y) {
        auto *l = new QLabel(text, this);
        l->setGeometry(12, y, 180, 24);
    };
    label(QStringLiteral("Заводской номер"), 12);
    label(QStringLiteral("Модификация прибора"), 44);
    label(QStringLiteral("Количество реле"), 76);
    label(QStringLiteral("Количество интерфейсов"), 108);
    factoryNumber_ = new QLineEdit(this);
    factoryNumber_->setObjectName(QStringLiteral("Заводской номер"));
    factoryNumber_->setGeometry(200, 12, 118, 24);
    QStringList modifications;
    for (int i = 1; i <= 16; ++i)
        modifications << QString::number(i);
    modification_ = TextList(this, QStringLiteral("Модификация прибора"), modifications, 200, 44);
    relays_ = TextList(this, QStringLiteral("Количество реле"), {"0", "1", "2", "3"}, 200, 76);
    interfaces_ = TextList(this, QStringLiteral("Количество интерфейсов"), {"1", "2"}, 200, 108);
    write_ = new QPushButton(QStringLiteral("Записать"), this);
    write_->setGeometry(12, 148, 140, 30);
    read_ = new QPushButton(QStringLiteral("Прочитать"), this);
    read_->setGeometry(178, 148, 140, 30);
    connect(write_, &QPushButton::clicked, this, [this] {
        logic_.WriteClicked(
            factoryNumber_->text(), modification_->currentText(), relays_->currentText(), interfaces_->currentText());
    });
    connect(read_, &QPushButton::clicked, this, [this] { logic_.ReadClicked(); });
}

void TForm15::InitDeviceInterfaceAndCmdManager(TDeviceInterface *_deviceInterface, TQx4CmdManager *_cmdManager)
{
    logic_.InitDeviceInterfaceAndCmdManager(_deviceInterface, _cmdManager);
}

void TForm15::ShowFactoryNumber(const QString &text)
{
    factoryNumber_->setText(text);
}

void TForm15::ShowModification(const QString &text)
{
    modification_->setCurrentText(text);
}

void TForm15::ShowRelayCount(const QString &text)
{
    relays_->setCurrentText(text);
}

void TForm15::ShowInterfaceCount(const QString &text)
{
    interfaces_->setCurrentText(text);
}

void TForm15::ShowMessage(const QString &text)
{
    TMessageService::Information(this, text);
}
