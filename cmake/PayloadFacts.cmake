# Where an updater carries its release, and what the release must hold: the
# facts that the updater, zlbtool and the build share, in this one place.
# The build writes them into PayloadResource.h for the programs (the
# library kvpayloadfacts); CheckPayload.cmake, a script of its own,
# includes this file.
#
# The payload is the RCDATA resource of this name in KVUpdater.exe. Resource
# names compare without letter case, and resource compilers store them in
# upper case ("ZLBDATA").
set(KV_PAYLOAD_RESOURCE_NAME ZLBData)
# RT_RCDATA, the resource type of the payload.
set(KV_PAYLOAD_RESOURCE_TYPE 10)
# The entry the update script runs as "@wait" from the update directory;
# entry names compare without the letter case of ASCII letters.
set(KV_PAYLOAD_WAIT_PROGRAM wait.exe)
# The string of the version resource that marks this project's updater
# program made to carry no payload of its own, the stub (KVUpdater-stub.exe),
# which zlbtool makes updaters of. Updaters made of it keep the mark; what
# tells them apart is the payload.
set(KV_PAYLOAD_STUB_MARKER KVUpdaterStub)
