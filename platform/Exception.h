#pragma once

#include <QString>
#include <stdexcept>
#include <string>

// Base of every error the system raises. The application-wide handler shows what() and logs
// ClassName() as the action, so each error type names itself.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message)
        : std::runtime_error(message)
    {
    }
    explicit Exception(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    explicit Exception(const char* message)
        : std::runtime_error(message)
    {
    }

    virtual const char* ClassName() const noexcept { return "Exception"; }
    QString Message() const { return QString::fromUtf8(what()); }
};

// Declares an error type that derives from Base and reports Name as its class name. The names are
// types, which parentheses would not take.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZV_DECLARE_EXCEPTION(Name, Base)                                                                     \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
        const char* ClassName() const noexcept override { return #Name; }                                    \
    }
// NOLINTEND(bugprone-macro-parentheses)
