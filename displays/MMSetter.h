#pragma once

// Defines Class::SetName(Type value): the value passes through expr (a bound or clamp written in
// terms of value), and only a real change is stored and announced through notify().
// Class and Type are names, which parentheses would not take.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZV_DEFINE_SETTER(Class, Name, Type, member, expr, notify)                                            \
    void Class::Set##Name(Type value)                                                                        \
    {                                                                                                        \
        value = (expr);                                                                                      \
        if (member == value)                                                                                 \
            return;                                                                                          \
        member = value;                                                                                      \
        notify();                                                                                            \
    }
// NOLINTEND(bugprone-macro-parentheses)
