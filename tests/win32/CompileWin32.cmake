# cmake -DCOMPILER=<mingw g++> -DSOURCE_DIR=<repo> -DOUTPUT_DIR=<dir> -P CompileWin32.cmake
if(NOT COMPILER OR NOT EXISTS "${COMPILER}")
  message(FATAL_ERROR "no MinGW C++ compiler (x86_64-w64-mingw32-g++); see scripts/install-deps.sh")
endif()
file(GLOB sources ${SOURCE_DIR}/core/*.cc ${SOURCE_DIR}/platform/win32/*.cc
     ${SOURCE_DIR}/accessor/*.cc)
list(APPEND sources ${SOURCE_DIR}/service/Codes.cc)
file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(failed "")
foreach(source ${sources})
  get_filename_component(name ${source} NAME_WE)
  execute_process(
    COMMAND ${COMPILER} -std=c++17 -Wall -Wextra -Wpedantic -Werror -DVANTA_BUILDING_LIBRARY
            -I${SOURCE_DIR}/include -I${SOURCE_DIR} -c ${source} -o ${OUTPUT_DIR}/${name}.o
    RESULT_VARIABLE result)
  if(result EQUAL 0)
    message(STATUS "compiled ${source}")
  else()
    list(APPEND failed ${source})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "MinGW could not compile: ${failed}")
endif()
