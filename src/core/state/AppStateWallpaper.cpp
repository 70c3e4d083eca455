#include "core/services/DesktopServices.h"
#include "core/services/WallpaperBackend.h"
#include "core/state/AppState.h"
#include "core/wallpaper/WallpaperService.h"

namespace orva {

void AppState::setAsDesktopPicture()
{
    if (!currentURL_)
        return;
    WallpaperBackend *backend = services_.desktop.wallpaperBackend();
    if (!backend) {
        setErrorMessage(tr("Orva cannot set the desktop picture on this desktop."));
        return;
    }
    WallpaperService service(services_.images, services_.tasks, *backend,
                             WallpaperService::defaultFolder());
    // The file and rotation are those of the moment of the command.
    service.setDesktopPicture(*currentURL_, rotationSteps_, this,
                              [this](const std::optional<QString> &error) {
                                  if (error)
                                      setErrorMessage(*error);
                              });
}

} // namespace orva
