#include "resultsplotwidget.h"

#include <QtGui/QPainter>

namespace halvik::quorvel {

ResultsPlotWidget::ResultsPlotWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(480, 360);
}

void ResultsPlotWidget::setPlot(std::unique_ptr<ResultsPlot> plot)
{
    current = std::move(plot);
    update();
}

void ResultsPlotWidget::paintEvent(QPaintEvent*)
{
    if (!current) {
        return;
    }
    QPainter painter(this);
    current->paint(painter, size());
}

} // namespace halvik::quorvel
