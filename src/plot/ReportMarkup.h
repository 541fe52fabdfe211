#pragma once
// The report's document as HTML body markup, in the subset that both a browser and Qt's rich
// text (which lays out the PDF) read alike.
#include "ReportDocument.h"

#include <functional>

// chartHtml gives the markup of chamber i's chart.
QString ReportBodyHtml(const ReportDocument &document,
                       const std::function<QString(int)> &chartHtml);
