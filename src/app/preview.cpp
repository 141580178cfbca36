#include "app/preview.h"

#include "app/cleaner.h"

namespace app {

PreviewResult RunPreview(Cleaner& cleaner) {
    (void)cleaner;
    PreviewResult result;
    result.plan = "nothing planned\n";
    return result;
}

}  // namespace app
