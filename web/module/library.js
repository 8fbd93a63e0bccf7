// The module's one import: the SDK's engine gives it when it instantiates the module, reading the
// picked file at an offset (synchronously, in the worker).
mergeInto(LibraryManager.library, {
  tw_read_at: function (offset, buffer, length) { return -1; },
});
