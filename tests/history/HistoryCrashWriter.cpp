// Writes calibration sessions to the history file given as its argument until it is killed,
// and prints each session's id once EndSession has returned.
#include "history/HistoryStore.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: history_crash_writer FILE\n");
        return 2;
    }
    std::string error;
    auto store = THistoryStore::Open(argv[1], error);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (int64_t n = 0;; ++n) {
        THistorySession session;
        session.StartedMs = 1'700'000'000'000 + n;
        session.TrainerIdentity = "manufacturer 32, model 4, serial 123456";
        const int64_t id = store->BeginSession(session);
        for (int level = 1; id > 0 && level <= 3; ++level) {
            THistoryPoint point;
            point.Name = "P" + std::to_string(level);
            point.Level = level;
            for (int i = 0; i < 60; ++i)
                point.Samples.push_back({i * 0.5, 20.0 + level});
            if (!store->AddPoint(id, point))
                break;
        }
        if (id == 0 || !store->EndSession(id, session.StartedMs + 1000)) {
            std::fprintf(stderr, "%s\n", store->LastError().c_str());
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(id));
        std::fflush(stdout);
    }
}
