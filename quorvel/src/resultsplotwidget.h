#pragma once

#include <halvik/quorvel/resultsplot.h>

#include <QtWidgets/QWidget>

#include <memory>

namespace halvik::quorvel {

/// Paints a ResultsPlot over the whole widget.
class ResultsPlotWidget : public QWidget
{
public:
    explicit ResultsPlotWidget(QWidget* parent = nullptr);

    void setPlot(std::unique_ptr<ResultsPlot> plot);
    const ResultsPlot* plot() const { return current.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<ResultsPlot> current;
};

} // namespace halvik::quorvel
