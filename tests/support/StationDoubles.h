#pragma once

// The station's operator-facing sides in tests: message boxes that record what they would show, and
// settings fields with fixed contents.

#include "station/StationInterfaces.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace zv::test {

// Keeps every text a box would show. Questions get `answer`: Yes unless the test says otherwise.
struct RecordedBoxes final : IMessageBoxes {
    void ShowMessage(const QString& text) override
    {
        messages << text;
        shown << text;
    }
    void ShowError(const QString& text) override
    {
        errors << text;
        shown << QStringLiteral("error: ") + text;
    }
    bool AskYesNo(const QString& text) override
    {
        questions << text;
        shown << QStringLiteral("question: ") + text;
        return answer;
    }

    QStringList messages;
    QStringList errors;
    QStringList questions;
    QStringList shown; // all of them in order, errors and questions marked as such
    bool answer = true;
};

// The settings window's fields as the controller reads them; by default the test station's.
struct FixedFields final : ISettingsFields {
    explicit FixedFields(QString radio = QStringLiteral("R\u00e1dio de Ensaio"),
        std::optional<QString> soundCard = QStringLiteral("Synthetic tone 1 kHz"),
        QString user = QStringLiteral("radio1"))
        : radio(std::move(radio))
        , soundCard(std::move(soundCard))
        , user(std::move(user))
    {
    }
    QString RadioName() const override { return radio; }
    std::optional<QString> SelectedSoundCard() const override { return soundCard; }
    QString UserName() const override { return user; }

    QString radio;
    std::optional<QString> soundCard;
    QString user;
};

} // namespace zv::test
