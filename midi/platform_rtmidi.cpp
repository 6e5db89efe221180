// The RtMidi back end of the port layer is not built yet.
namespace platform {}
