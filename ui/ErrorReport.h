#pragma once

#include <QString>

#include <exception>
#include <utility>

class QWidget;

// The standard report of an error that a handler did not handle: a modal box
// naming the error. Errors of the serial component leave the program running;
// anything else ends it after the report.
namespace ErrorReport {
void show(QWidget* parent, int number, const QString& text);
// Reports the exception in flight; call from a catch block.
void reportCurrent(QWidget* parent, std::exception_ptr error);

// Wraps a handler for a signal connection so that no exception crosses the
// event loop.
template <class Handler>
auto guarded(QWidget* parent, Handler handler) {
    return [parent, handler = std::move(handler)]() {
        try {
            handler();
        } catch (...) {
            reportCurrent(parent, std::current_exception());
        }
    };
}
}  // namespace ErrorReport
