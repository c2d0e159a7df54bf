#pragma once
// The vector diagram painted: arrows from one centre inside the scale circle, the installation's in one
// colour, the transducer's dashed in another, each labelled with name, magnitude and angle; the scale,
// the phases without signal and the colour key written underneath.

#include <QRectF>
#include <QWidget>

#include <vector>

#include "charts/vectordiagram.h"

class QPainter;

class TVectorDiagramWidget : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kInstallationColor{0x1f, 0x4e, 0x9c};
    static inline const QColor kTransducerColor{0xd2, 0x69, 0x00};

    explicit TVectorDiagramWidget(QWidget *parent = nullptr);

    void SetDiagram(const TVectorDiagram &diagram);
    // Nothing to show yet (not connected): only the caption and a note.
    void Clear();
    const TVectorDiagram &Diagram() const { return diagram_; }
    bool HasDiagram() const { return hasDiagram_; }

    // Paints into any device (the widget, an image for a report or a benchmark).
    void Paint(QPainter &painter, const QRectF &area);

    // What the last paint put where, in the painted area's pixels.
    struct TPainted {
        QRectF circle; // the scale circle's bounding box
        std::vector<QRectF> labels; // one per label of the arrows
        std::vector<QRectF> texts; // the caption and the lines underneath
    };
    const TPainted &Painted() const { return painted_; }

    QSize sizeHint() const override { return {760, 640}; }
    QSize minimumSizeHint() const override { return {360, 320}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TVectorDiagram diagram_;
    bool hasDiagram_ = false;
    TPainted painted_;
};
