#include "device/protocol.h"

const char* ModelName(int32_t type) {
    switch (type) {
        case 100:
            return "КСВЛ";
        case 101:
            return "РУН-ТС";
        case 102:
            return "РУН-ТП";
        case 103:
            return "ЛСТА";
        case kTypeVek01:
            return "ВЭК-01МЕ";
        case kTypeVek02:
            return "ВЭК-02МЕ";
        default:
            return "";
    }
}
