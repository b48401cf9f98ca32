# Instrumented builds, chosen by the options of the top-level CMakeLists.txt.
#
# ZEM_SANITIZE: everything under AddressSanitizer and UndefinedBehaviorSanitizer
# (GCC or clang). Undefined behaviour aborts instead of printing and carrying on,
# so a test that hits it fails.
#
# ZEM_TSAN: ThreadSanitizer, for the tests of the window's device thread. Qt
# itself is not instrumented: tests/tsan.supp names its frames.
#
# ZEM_FUZZ: coverage instrumentation for libFuzzer on every object, plus the
# same sanitizers; only clang has libFuzzer. Only the fuzz/ targets are meant to
# be built in such a tree.
set(zem_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)

if(ZEM_SANITIZE AND ZEM_FUZZ)
    message(FATAL_ERROR "ZEM_SANITIZE and ZEM_FUZZ are separate builds; turn one off")
endif()

# An instrumented tree is built only to be tested: -O1 with line tables (all a
# sanitizer's report needs) compiles in little more than half the time of
# RelWithDebInfo's -O2 -g; these come after the build type's flags, so they win.
if(ZEM_SANITIZE OR ZEM_TSAN OR ZEM_FUZZ)
    add_compile_options(-O1 -g1)
endif()

if(ZEM_TSAN)
    if(ZEM_SANITIZE OR ZEM_FUZZ)
        message(FATAL_ERROR "ZEM_TSAN is a build of its own; turn ZEM_SANITIZE and ZEM_FUZZ off")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

if(ZEM_SANITIZE)
    add_compile_options(${zem_sanitizer_flags})
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # GCC's null checks make "&object != nullptr" no longer a constant
        # expression, which breaks the layout checks of device/records.h. A null
        # dereference still stops the test (ASan reports the SEGV), and the
        # fuzzers keep these checks under clang.
        add_compile_options(-fno-sanitize=null,nonnull-attribute,returns-nonnull-attribute)
        # GCC leaves float-to-integer overflow out of "undefined"; clang has it.
        add_compile_options(-fsanitize=float-cast-overflow -fno-sanitize-recover=float-cast-overflow)
        add_link_options(-fsanitize=float-cast-overflow)
        # The instrumentation misleads this flow analysis (std::function in
        # std::regex); the normal build keeps the warning.
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
    add_link_options(-fsanitize=address,undefined)
endif()

if(ZEM_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ZEM_FUZZ needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link ${zem_sanitizer_flags})
    # clang 14 takes the parentheses that a fold expression requires for redundant.
    add_compile_options(-Wno-parentheses-equality)
endif()
