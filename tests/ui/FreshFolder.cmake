# cmake -DFOLDER=<path> -P FreshFolder.cmake: empties FOLDER, so every test
# run starts from a home folder with nothing stored in it.
if(NOT FOLDER)
  message(FATAL_ERROR "FOLDER is not set")
endif()
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
