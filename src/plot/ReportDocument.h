#pragma once
// The test report as a document: headings, tables, charts and notes in reading order, every
// text worded (ReportWords) and none yet marked up. The PDF and the HTML file are both drawn
// from it (ReportMarkup), so they cannot say different things.
#include "ReportModel.h"

#include <QList>
#include <QString>
#include <QStringList>

// One line of a table cell; a fine line is set small and in a fixed-width font (a digest).
struct ReportLine {
    QString text;
    bool fine = false;
};
using ReportCell = QList<ReportLine>;

struct ReportTable {
    QStringList head;      // empty: no heading row
    QList<int> headWidths; // per column in percent of the table; 0 or missing: free
    bool keyValue = false; // two columns: a bold key, 38 % wide, and its value
    QList<QList<ReportCell>> rows;
};

struct ReportBlock {
    enum class Kind {
        Title,   // a chamber's or the report's title; newPage starts a page before it
        Heading, // a section: the summary, the events
        Table,
        Chart,  // chamber `chart`'s chart
        Legend, // the chart's legend, in small type
        Paragraph,
        Signature, // the line the operator signs
    };
    Kind kind = Kind::Paragraph;
    QString text;
    bool newPage = false;
    ReportTable table;
    int chart = -1;
};

struct ReportDocument {
    QString title;   // of the file
    QString creator; // the tool and its version
    QString signature;
    QList<ReportBlock> blocks;
};

// signatureAfterEachChamber: the HTML file has no page footer to hold it.
ReportDocument ReportDocumentOf(const ReportContent &report, bool signatureAfterEachChamber);
