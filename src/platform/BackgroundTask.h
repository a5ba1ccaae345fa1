#pragma once

#include <QFuture>
#include <QPromise>

#include <functional>
#include <memory>
#include <optional>
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
// The work and everything it holds are gone before its future ends, so
// whoever waits for the future may then let the process end.
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
                if constexpr (std::is_void_v<Result>) {
                    (*held)();
                    held.reset();
                } else {
                    Result result = (*held)();
                    held.reset();
                    promise->addResult(std::move(result));
                }
                promise->finish();
            }));
        return future;
    }

private:
    static void startOrRunHere(std::unique_ptr<std::function<void()>> body);
};
