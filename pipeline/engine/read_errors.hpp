#pragma once

#include <atomic>

namespace dorvane {

// The errno of the first of several threads' reads that failed; 0 while none did.
class FirstError {
  public:
    void Note(int error) {
        int none = 0;
        if (error != 0) {
            Error.compare_exchange_strong(none, error);
        }
    }
    int Get() const { return Error.load(); }

  private:
    std::atomic<int> Error{0};
};

} // namespace dorvane
