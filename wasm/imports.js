// Functions that quern.wasm imports from quern.mjs. The bodies here are never
// used: quern.mjs writes the module's imports itself; this only tells the
// linker that the names come from outside the module.
mergeInto(LibraryManager.library, {
  quern_answer_part: function (at, length) {},
  quern_answer_stretch: function (member, memberLength, at, length) {},
});
