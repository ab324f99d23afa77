# The core's folders from the bottom up, each with the folders it may use. The build
# makes one library per folder linking exactly these, and CheckLayers.cmake fails the
# build when a file includes a header of any other folder.
set(vanto_layers base platform plan capture targets service sheets drivers cloud stage agent engine desk cli)

set(vanto_uses_base)
set(vanto_uses_platform base)
# Plans and steps are wire vocabulary: the service, drivers, the cloud and runs all speak them.
set(vanto_uses_plan base)
set(vanto_uses_capture base platform)
set(vanto_uses_targets base platform plan capture)
set(vanto_uses_service base platform plan capture)
set(vanto_uses_sheets base platform plan)
set(vanto_uses_drivers base platform plan capture targets)
# Cloud runs turn a claim into a demo sheet, talk to the service and drive takes.
set(vanto_uses_cloud base platform plan service sheets drivers)
# The stage browser: Chromium with its own profile, placed for a sheet's stage.
set(vanto_uses_stage base platform plan capture targets sheets)
set(vanto_uses_agent base platform plan capture targets service sheets drivers cloud)
set(vanto_uses_engine base platform plan capture targets service sheets drivers cloud agent)
# The desktop application's own logic: what its window checks, asks and says.
set(vanto_uses_desk base platform plan capture targets service sheets drivers cloud stage agent engine)
set(vanto_uses_cli base platform plan capture targets service sheets drivers cloud agent engine)

# Backends sit on the seams only; the desktop application is a front end over the whole core.
set(vanto_uses_platform/fake base platform)
set(vanto_uses_platform/linux base platform)
# The panels reach the X server through the Linux backend's one connection.
set(vanto_uses_app ${vanto_layers} platform/linux)
