#pragma once
// The control surface of the running standalone audio engine. The toolkit only holds and passes on
// a pointer to it (EditorHost::audioDevices); whoever builds the settings menus uses its contents.

namespace lumo::audio {

class DeviceControl;

}  // namespace lumo::audio
