#include "BackgroundTask.h"

#include <system_error>
#include <thread>

void BackgroundTask::startOrRunHere(std::unique_ptr<std::function<void()>> body)
{
    // The thread owns the body once it has started: it may have run it and
    // let it go before the constructor returns here.
    std::function<void()>* const handed = body.get();
    try {
        std::thread([handed] {
            const std::unique_ptr<std::function<void()>> owned(handed);
            (*owned)();
        }).detach();
        static_cast<void>(body.release());
        return;
    } catch (const std::system_error&) {
    }
    (*body)();
}

std::optional<std::string> BackgroundTask::threadStartFailure()
{
    try {
        std::thread([] {}).join();
    } catch (const std::system_error& error) {
        return error.code().message();
    }
    return std::nullopt;
}
