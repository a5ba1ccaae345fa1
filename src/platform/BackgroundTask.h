#pragma once

#include <QFuture>
#include <QPromise>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

// A piece of work run beside the window's thread, its end told by a QFuture
// (for a QFutureWatcher, or to wait for).
//
// Each piece gets a thread of its own. Where none can be started (a limit on
// the user's processes or on the process's memory has been reached), the
// work runs on the calling thread before run() returns, and the future it
// returns has ended: slower, but it ends. A shared pool would keep such a
// piece queued for a thread that never comes, and the job would wait for
// it for ever.
//
// The work and everything it holds are gone before its future ends; the
// thread itself ends a moment later. Whoever starts a piece waits for its
// future before the process ends. So the work makes no QObject (a QProcess,
// say; ShortProgram runs a program without one): Qt would give the thread
// data of its own, torn down only in that moment after the future, perhaps
// while the process itself is ending.
class BackgroundTask {
public:
    template <typename Work>
    static QFuture<std::invoke_result_t<Work&>> run(Work work)
    {
        using Result = std::invoke_result_t<Work&>;
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        promise->start();
        startOrRunHere(std::make_unique<std::function<void()>>(
            [promise, held = std::make_optional(std::move(work))]() mutable {
                try {
                    if constexpr (std::is_void_v<Result>) {
                        (*held)();
                        held.reset();
                    } else {
                        Result result = (*held)();
                        held.reset();
                        promise->addResult(std::move(result));
                    }
                } catch (...) {
                    // Thrown again where the result is read.
                    held.reset();
                    promise->setException(std::current_exception());
                }
                promise->finish();
            }));
        return future;
    }

    // Why no thread can be started now (the user's limit on processes,
    // ulimit -u, or on memory, ulimit -v, is reached); nothing when one can.
    static std::optional<std::string> threadStartFailure();

private:
    static void startOrRunHere(std::unique_ptr<std::function<void()>> body);
};
