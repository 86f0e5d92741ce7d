#pragma once

#include <halvik/quorvel/pathdata.h>

#include <QtCore/QString>

#include <optional>
#include <vector>

namespace halvik::quorvel {

/// The fields of one results file line: double-quoted texts separated by commas, a doubled
/// quote standing for one. Nothing when the line is not of that form.
std::optional<QStringList> splitResultsLine(const QString& line);

/// Reads a results file as Quorvel and vantorctl write it: the header line, then one line of
/// six fields per row. An empty field gives a cell without an item. False, with the reason in
/// errorText, when the file cannot be read or is not a results file; rows is then unchanged.
bool readResultsFile(const QString& fileName, std::vector<quorvel::PathRow>& rows,
                     QString* errorText = nullptr);

} // namespace halvik::quorvel
