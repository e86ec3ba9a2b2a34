#include "station/WordElide.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace zv {

QString ElideAtWord(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width) {
        return text;
    }
    const QString ellipsis(QChar(0x2026));
    QString best;
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    for (qsizetype end = words.toNextBoundary(); end > 0; end = words.toNextBoundary()) {
        if (!(words.boundaryReasons() & QTextBoundaryFinder::EndOfItem)) {
            continue;
        }
        QString head = text.left(end);
        // "English (" reads as a fault; "English" does not.
        while (!head.isEmpty()
            && (head.back().isSpace() || head.back().category() == QChar::Punctuation_Open
                || head.back().category() == QChar::Punctuation_Dash)) {
            head.chop(1);
        }
        if (head.isEmpty()) {
            continue;
        }
        if (metrics.horizontalAdvance(head + ellipsis) > width) {
            break;
        }
        best = head + ellipsis;
    }
    return best.isEmpty() ? metrics.elidedText(text, Qt::ElideRight, width) : best;
}

int TWordElideComboBox::TextWidth() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field
        = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    // The label is drawn a pixel or two in from the field's edges.
    return std::max(0, field.width() - 4);
}

QString TWordElideComboBox::ShownText() const
{
    return ElideAtWord(currentText(), fontMetrics(), TextWidth());
}

void TWordElideComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = ShownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void TWordElideComboBox::showPopup()
{
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
        widest = std::max(widest, view()->fontMetrics().horizontalAdvance(itemText(i)));
    }
    // Room for the items' margins and a scroll bar.
    const int margins = 4 * view()->frameWidth() + 16 + view()->verticalScrollBar()->sizeHint().width();
    view()->setMinimumWidth(std::max(width(), widest + margins));
    QComboBox::showPopup();
}

} // namespace zv
