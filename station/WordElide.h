#pragma once

// Texts that do not fit their box: cut after a whole word, with an ellipsis, never inside a word.

#include <QComboBox>
#include <QString>

class QFontMetrics;

namespace zv {

// The text as it stands when it fits `width` pixels; otherwise the longest run of whole words
// (without the blanks and opening brackets that would end it) followed by "…" that fits. A first word
// too long for the box on its own is cut where it must, with the ellipsis.
QString ElideAtWord(const QString& text, const QFontMetrics& metrics, int width);

// A combo box that shows its choice so (ElideAtWord) and opens a list wide enough for its longest
// entry, which may reach beyond the box.
class TWordElideComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    // The text the box shows for its current entry.
    QString ShownText() const;

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int TextWidth() const;
};

} // namespace zv
