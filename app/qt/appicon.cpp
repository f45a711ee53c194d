#include "app/qt/appicon.h"

// The resources sit in a static library; naming their initialiser here keeps the linker from dropping them.
static void initBrindlemarkResources() {
    Q_INIT_RESOURCE(brindlemark);
}

namespace brindlemark {

QPixmap applicationPixmap() {
    static const bool initialised = (initBrindlemarkResources(), true);
    (void)initialised;
    return QPixmap(QStringLiteral(":/brindlemark/brindlemark.xpm"));
}

QIcon applicationIcon() {
    return QIcon(applicationPixmap());
}

} // namespace brindlemark
