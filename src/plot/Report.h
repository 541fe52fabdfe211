#pragma once
// The test report: per chamber a header (period, source files with their SHA-256, version,
// time made), the chart, the summary and the events; a first page with one line per chamber
// when there are several. Written as an A4 PDF (vector chart, searchable text) or as one
// self-contained HTML file with the same content: both are drawn from one document
// (ReportDocument), whose words come from ReportWords.
#include "ReportModel.h"

// Writes the file whole or not at all; an error text ("<cause>") or an empty string.
QString WriteReportPdf(const ReportContent &report, const QString &path);
QString WriteReportHtml(const ReportContent &report, const QString &path);
