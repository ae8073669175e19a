// The semaphore self-test: test1 gives up a short wait and counts; test2 starts three seconds later and posts.
#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_sem.h"
#include "unitest.h"

namespace {

constexpr uint32_t kTest1WaitMs = 2;
constexpr uint64_t kTest2DelayUs = 3 * kUnitestSecondUs;

void *WaitThenCount(void *arg) {
    auto *sem = static_cast<Sem *>(arg);
    sem->TimedWait(sem, kTest1WaitMs);
    Unitest_CountFive("===== test1");
    TARN_INFO("'test1' thread exit.\n");
    return nullptr;
}

void *CountThenPost(void *arg) {
    auto *sem = static_cast<Sem *>(arg);
    Unitest_CountFive("###### test2");
    sem->Post(sem);
    TARN_INFO("'test2' thread exit.\n");
    return nullptr;
}

} // namespace

int Unitest_Sem() {
    OwnedHandle<Sem, Sem_Delete> sem;
    const SemParam param{"test", 0};
    if (Sem_Create(sem.Address(), &param) != 0) {
        TARN_ERR("Sem_Create \n");
        return -1;
    }
    return Unitest_RunPair(sem.Get(), WaitThenCount, CountThenPost, kTest2DelayUs);
}
