#include "zip/zip_module.h"

#include "util/log.h"

namespace corvane {

ZipModule::ZipModule(TaskManager* workLoop, TaskManager* callbackLoop) : Module(workLoop), callbackLoop_(callbackLoop) {
}

ZipModule::~ZipModule() {
    CLOG_DEBUG("Deleting ZipModule");
}

}  // namespace corvane
