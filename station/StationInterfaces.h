#pragma once

// What the windows supply to the station controller. The controller itself needs no window; the main
// and settings windows implement these, tests answer them.

#include <QString>
#include <optional>

// Colour of the status text.
struct TRgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // A plain message box with an OK button, titled with the application title.
    virtual void ShowMessage(const QString& text) = 0;
    // The standard error box: the error's message, titled with the application title.
    virtual void ShowError(const QString& text) = 0;
    // A question with Yes and No, No the default (Enter and Escape keep things as they are). True for
    // Yes. Boxes that do not ask answer Yes.
    virtual bool AskYesNo(const QString& text)
    {
        (void)text;
        return true;
    }
};

class IStationWindow {
public:
    virtual ~IStationWindow() = default;
    // Caption of the hidden message label of that name; follows the chosen language.
    virtual QString Caption(const QString& labelName) const = 0;
    // The status label LStatus.
    virtual void SetStatus(const QString& text, TRgb colour) = 0;
    // The stream's details: the hint of LStatus and the tray icon's tooltip. Optional.
    virtual void SetStatusDetails(const QString& details) { (void)details; }
    // Why the encoder last stopped by itself, as the operator reads it; empty once it is on the air again
    // or when it could not say. Optional.
    virtual void SetStopReason(const QString& reason) { (void)reason; }
    // The dead-air alarm was raised (message says why; the silence has lasted silentSeconds) or
    // cleared. Optional.
    virtual void DeadAirChanged(bool silent, const QString& message, double silentSeconds)
    {
        (void)silent;
        (void)message;
        (void)silentSeconds;
    }
    // The recording of the air paused (a disk below its free-space floor): a tray notification.
    // Optional.
    virtual void RecordingWarning(const QString& message) { (void)message; }
    // Makes the settings window's settings panel visible and shows the window modally: from the event
    // loop, once every box is closed, so the caller returns first.
    virtual void ShowSettingsModal() = 0;
    // Asks the application to end once the current step is over.
    virtual void RequestTermination() = 0;
    // Lets pending user-interface events run (other handlers may run nested in the caller).
    virtual void ProcessPendingEvents() = 0;
};

// Fields of the settings window that go into the encoding file.
class ISettingsFields {
public:
    virtual ~ISettingsFields() = default;
    virtual QString RadioName() const = 0; // EdRadio
    virtual std::optional<QString> SelectedSoundCard() const = 0; // CBPlacas: selected entry's text
    virtual QString UserName() const = 0; // EdUsuario
};
