#include "window/text_box_pieces.h"

#include <QAbstractTextDocumentLayout>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace rt::pieces {

std::optional<RowShape> rowShape(const QTextBlock& block) {
    const QTextLayout* layout = block.layout();
    if (layout == nullptr || layout->lineCount() == 0) {
        return std::nullopt;
    }
    const QTextLine first = layout->lineAt(0);
    return RowShape{first.width(), first.x()};
}

std::unique_ptr<QTextLayout> rowsOf(const QString& text, const RowShape& shape,
                                    const QTextDocument& doc) {
    auto laidOut =
        std::make_unique<QTextLayout>(text, doc.defaultFont(), doc.documentLayout()->paintDevice());
    QTextLayout& rows = *laidOut;
    rows.setTextOption(doc.defaultTextOption());
    rows.beginLayout();
    qreal y = 0;
    for (QTextLine row = rows.createLine(); row.isValid(); row = rows.createLine()) {
        row.setLeadingIncluded(true);
        row.setLineWidth(shape.width);
        row.setPosition(QPointF(shape.x, y));
        y += row.height();
        if (row.leading() < 0) {
            y += std::ceil(row.leading());
        }
    }
    rows.endLayout();
    return laidOut;
}

bool samePlace(const QTextDocument* doc, int a, int b) {
    if (a == b) {
        return true;
    }
    const int later = std::max(a, b);
    const QTextBlock block = doc->findBlock(later);
    return std::abs(a - b) == 1 && block.position() == later && continuesLine(block);
}

int textLength(const QTextDocument* doc, int from, int to) {
    int cuts = 0;
    for (QTextBlock b = doc->findBlock(from).next(); b.isValid() && b.position() <= to;
         b = b.next()) {
        cuts += continuesLine(b) ? 1 : 0;
    }
    return to - from - cuts;
}

std::pair<int, int> inWholeLine(const QTextDocument* doc, int position,
                                const std::function<void(QTextCursor&)>& act) {
    constexpr int kMargin = 64;
    QTextBlock first = doc->findBlock(position);
    QTextBlock last = first;
    for (int span = 1;; span *= 2) {
        for (int i = 0; i < span && continuesLine(first); ++i) {
            first = first.previous();
        }
        for (int i = 0; i < span && continuesLine(last.next()); ++i) {
            last = last.next();
        }
        QString line;
        std::vector<std::pair<int, int>> starts; // of each piece: in `line`, in the document
        for (QTextBlock b = first;; b = b.next()) {
            starts.emplace_back(static_cast<int>(line.size()), b.position());
            line += b.text();
            if (b == last) {
                break;
            }
        }
        const auto toLine = [&](int p) {
            auto i = starts.size();
            while (--i > 0 && starts[i].second > p) {
            }
            return starts[i].first + p - starts[i].second;
        };
        const auto toDocument = [&](int p) {
            auto i = starts.size();
            while (--i > 0 && starts[i].first > p) {
            }
            return starts[i].second + p - starts[i].first;
        };
        QTextDocument copy;
        QTextCursor cursor(&copy);
        cursor.insertText(line);
        cursor.setPosition(toLine(position));
        act(cursor);
        const int from = std::min(cursor.anchor(), cursor.position());
        const int to = std::max(cursor.anchor(), cursor.position());
        if ((continuesLine(first) && from < kMargin) ||
            (continuesLine(last.next()) && to > line.size() - kMargin)) {
            continue;
        }
        return {toDocument(cursor.anchor()), toDocument(cursor.position())};
    }
}

} // namespace rt::pieces
