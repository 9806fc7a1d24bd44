#include "engine/ZipManager.h"

ZipManager& ZipManager::shared()
{
    static ZipManager manager;
    return manager;
}
