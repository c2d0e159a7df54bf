#include "charts/vectordiagramform.h"

#include <QVBoxLayout>

#include "charts/vectordiagramwidget.h"

TVectorDiagramForm::TVectorDiagramForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("VectorDiagramForm"));
    setWindowTitle(QStringLiteral("Векторная диаграмма"));
    diagram_ = new TVectorDiagramWidget(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(diagram_);
    resize(diagram_->sizeHint());
}

void TVectorDiagramForm::ShowInstallationReadings(const TParameters &readings, TWiringScheme scheme)
{
    installation_ = readings;
    scheme_ = scheme;
    Rebuild();
}

void TVectorDiagramForm::ShowTransducerReadings(const TParameters &readings, const TTransfCoefs &coefs)
{
    transducer_ = readings;
    coefs_ = coefs;
    Rebuild();
}

void TVectorDiagramForm::ForgetTransducer()
{
    transducer_.reset();
    Rebuild();
}

void TVectorDiagramForm::Clear()
{
    installation_.reset();
    transducer_.reset();
    diagram_->Clear();
}

void TVectorDiagramForm::Rebuild()
{
    // The transducer's arrows only beside the installation's: alone they have no reference.
    if (!installation_) {
        diagram_->Clear();
        return;
    }
    diagram_->SetDiagram(BuildVectorDiagram(*installation_, transducer_ ? &*transducer_ : nullptr, coefs_, scheme_));
}
