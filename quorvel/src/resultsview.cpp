#include "resultsplotwidget.h"

#include <halvik/quorvel/pointingstats.h>
#include <halvik/quorvel/resultsview.h>

#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

namespace halvik::quorvel {

namespace {

QString degrees(double value)
{
    return QString::number(value, 'f', 4);
}

QTableWidget* figureTable(const QStringList& columns, QWidget* parent)
{
    auto* table = new QTableWidget(0, static_cast<int>(columns.size()), parent);
    table->setHorizontalHeaderLabels(columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return table;
}

void setRow(QTableWidget* table, int row, const QStringList& cells)
{
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells.at(c));
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, c, item);
    }
}

} // namespace

ResultsView::ResultsView(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("Results - Quorvel"));
    plot = new ResultsPlotWidget(this);
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("summaryLabel"));
    summary->setWordWrap(true);
    axes = figureTable({tr("Azimuth"), tr("Elevation"), tr("Cross-el.")}, this);
    axes->setObjectName(QStringLiteral("axisTable"));
    axes->setRowCount(5);
    axes->setVerticalHeaderLabels({tr("Bias"), tr("Standard deviation"), tr("RMS"),
                                   tr("Max |error|"), tr("Current error sums")});
    targets = figureTable({tr("Azimuth"), tr("Elevation"), tr("Visits"), tr("Repeat. az"),
                           tr("Repeat. el"), tr("Reversal az"), tr("Reversal el")},
                          this);
    targets->setObjectName(QStringLiteral("targetTable"));
    auto* save = new QPushButton(tr("Save picture..."), this);
    save->setObjectName(QStringLiteral("savePictureButton"));

    auto* figures = new QVBoxLayout;
    figures->addWidget(summary);
    figures->addWidget(new QLabel(tr("Errors: actual - target, degrees"), this));
    figures->addWidget(axes);
    figures->addWidget(new QLabel(tr("Targets visited more than once (repeatability: 2 x "
                                     "standard deviation; reversal: mean from above - mean "
                                     "from below)"),
                                  this));
    figures->addWidget(targets);
    figures->addWidget(save, 0, Qt::AlignRight);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(plot, 3);
    layout->addLayout(figures, 2);
    // Connects on_savePictureButton_clicked by name.
    QMetaObject::connectSlotsByName(this);
    resize(1200, 600);
    setRows({}, QString());
}

void ResultsView::setRows(std::vector<PathRow> rows, const QString& title)
{
    const PointingStats s = pointingStats(rows);
    plot->setPlot(std::make_unique<ResultsPlot>(std::move(rows), title));

    QString text = tr("Rows read back: %1").arg(s.rowsReadBack);
    if (s.rowsWithoutActuals > 0) {
        text += tr(" (%1 without an actual position)").arg(s.rowsWithoutActuals);
    }
    text += tr("\nAngle on the sky: mean %1, RMS %2, 95th percentile %3, max %4")
                .arg(degrees(s.skyMean), degrees(s.skyRms), degrees(s.skyP95), degrees(s.skyMax));
    summary->setText(text);

    const auto axisRow = [&](int row, double AxisStats::*field) {
        setRow(axes, row,
               {degrees(s.azimuth.*field), degrees(s.elevation.*field),
                degrees(s.crossElevation.*field)});
    };
    axisRow(0, &AxisStats::bias);
    axisRow(1, &AxisStats::standardDeviation);
    axisRow(2, &AxisStats::rms);
    axisRow(3, &AxisStats::maxAbsolute);
    setRow(axes, 4, {degrees(s.sums.azimuth), degrees(s.sums.elevation), QString()});

    const auto optional = [](const std::optional<double>& v) {
        return v ? degrees(*v) : QStringLiteral("-");
    };
    targets->setRowCount(static_cast<int>(s.targets.size()));
    for (int i = 0; i < static_cast<int>(s.targets.size()); ++i) {
        const TargetStats& t = s.targets[static_cast<std::size_t>(i)];
        setRow(targets, i,
               {formatNumber(t.azimuth), formatNumber(t.elevation), QString::number(t.count),
                degrees(t.repeatabilityAzimuth), degrees(t.repeatabilityElevation),
                optional(t.reversalAzimuth), optional(t.reversalElevation)});
    }
}

bool ResultsView::savePicture(const QString& fileName, QString* errorText) const
{
    const ResultsPlot* picture = plot->plot();
    const QSize size = plot->size().expandedTo(QSize(800, 600));
    return fileName.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)
               ? picture->saveSvg(fileName, size, errorText)
               : picture->savePng(fileName, size, errorText);
}

void ResultsView::on_savePictureButton_clicked()
{
#ifdef HALVIK_HAS_SVG
    const QString filter = tr("PNG picture (*.png);;SVG picture (*.svg)");
#else
    const QString filter = tr("PNG picture (*.png)");
#endif
    QString fileName = QFileDialog::getSaveFileName(this, tr("Save picture"),
                                                    QStringLiteral("results.png"), filter);
    if (fileName.isEmpty()) {
        return;
    }
    if (!fileName.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !fileName.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        fileName += QStringLiteral(".png");
    }
    QString error;
    if (!savePicture(fileName, &error)) {
        QMessageBox::warning(this, tr("Save picture"),
                             tr("Cannot write %1: %2").arg(fileName, error));
    }
}

} // namespace halvik::quorvel
