#pragma once
// The synthetic disc builder: filled in by the builder work.
